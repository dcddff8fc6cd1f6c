#pragma once

#include <memory>

#include "transfer/transfer_work.h"
#include "work/work.h"

namespace qelt {

// Lifts the execute ban from every program of the package once all its files are verified: the last step of a
// transfer. A refused permission change is retryable; a missing file is fatal.
class AllowExecuteWork : public TransferWork, public SimpleWork {
public:
    explicit AllowExecuteWork(std::shared_ptr<TransferWorkInterface> iface);

    void Describe(ptree& out) const override;
    WorkStatus ExecuteTask() override;
    void Cancel() override {}
};

}  // namespace qelt
