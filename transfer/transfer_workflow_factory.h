#pragma once

#include <memory>

namespace qelt {

class TransferWorkInterface;
class Workflow;

// Builds the workflow that runs a transfer's work tree.
class TransferWorkflowFactory {
public:
    virtual ~TransferWorkflowFactory() = default;
    // A new workflow, not started, whose tree reports through `iface`. Every call builds a new tree.
    virtual std::shared_ptr<Workflow> CreateWorkflow(std::shared_ptr<TransferWorkInterface> iface) = 0;
};

// The tree of one package (TransferPackageWork and everything it builds), run on the behaviour's work manager
// with at most workflowParallelism leaves at once. Stateless.
class StandardTransferWorkflowFactory : public TransferWorkflowFactory {
public:
    std::shared_ptr<Workflow> CreateWorkflow(std::shared_ptr<TransferWorkInterface> iface) override;
};

}  // namespace qelt
