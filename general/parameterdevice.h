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
    // Writes one parameter; sets ok (base: does nothing).
    virtual void uploadParameter(halvorn::general::Parameter* param, bool& ok);
    // Reads one parameter; sets ok (base: returns 0).
    virtual uint downloadParameter(halvorn::general::Parameter* param, bool& ok);

public Q_SLOTS:
    // Read-only parameters succeed without bus traffic; otherwise up to
    // retryCount uploads (at least one), true at the first success.
    virtual bool parameterWrite(halvorn::general::Parameter* param, int retryCount = 1);
    // Reaction to a parameter's value change (base: nothing).
    virtual void parameterChanged(halvorn::general::Parameter* param);
    // Queues a SearchParameterTask for this device.
    void triggerSearchParameters();
};

} // namespace halvorn::general
