#include "tests/support/testhelpers.h"
