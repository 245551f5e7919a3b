#pragma once

#include "general/parametergroup.h"

namespace halvorn::general {

class Parameter;

// A parameter group that can read and write its parameters on real hardware.
class ParameterDevice : public ParameterGroup
{
    Q_OBJECT

public:
    explicit ParameterDevice(TreeNode* parent = nullptr);

    // Finds the parameters the hardware offers (base: nothing).
    virtual void searchParameters();
    // Writes one parameter. `ok` comes in true; an implementation sets it
    // false when the write failed (base: does nothing, so it succeeds).
    virtual void uploadParameter(halvorn::general::Parameter* param, bool& ok);
    // Reads one parameter. `ok` comes in false; an implementation sets it
    // true when the read succeeded (base: returns 0 and fails).
    virtual uint downloadParameter(halvorn::general::Parameter* param, bool& ok);
    // How many times Parameter::update() tries downloadParameter() before
    // it gives up. Base: 1; a Device on a network answers the network's
    // retry count. 0 or less makes every read fail at once.
    virtual int readAttempts() const;
    // Adds `param` under `group` (moved to the group's thread) unless the
    // group already holds a parameter of that number; returns the parameter
    // that is in the tree. When another one is returned the caller still
    // owns `param` and deletes it.
    virtual Parameter* addParameter(ParameterGroup* group, Parameter* param);

public Q_SLOTS:
    // Read-only parameters succeed without bus traffic; otherwise up to
    // retryCount uploads (exactly one when retryCount is 0 or less), true at
    // the first success.
    virtual bool parameterWrite(halvorn::general::Parameter* param, int retryCount = 1);
    // Reaction to a parameter's value change (base: nothing).
    virtual void parameterChanged(halvorn::general::Parameter* param);
    // Queues a SearchParameterTask for this device; the scheduler deletes
    // the task when it is done.
    void triggerSearchParameters();
};

} // namespace halvorn::general
