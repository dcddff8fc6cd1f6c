#include "transfer/transfer_workflow_factory.h"

#include "pipeline/transfer_package_work.h"
#include "transfer/transfer_behavior.h"
#include "work/standard_workflow.h"

namespace qelt {

std::shared_ptr<Workflow> StandardTransferWorkflowFactory::CreateWorkflow(
    std::shared_ptr<TransferWorkInterface> iface) {
    TransferBehavior* behavior = iface->GetBehavior();
    auto root = std::make_shared<TransferPackageWork>(std::move(iface));
    return StandardWorkflow::Create(std::move(root), behavior->workManager,
                                    behavior->settings.workflowParallelism);
}

}  // namespace qelt
