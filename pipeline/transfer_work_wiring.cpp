#include "pipeline/transfer_work_wiring.h"

#include <boost/property_tree/ptree.hpp>

#include "analytics/work_log_manager.h"
#include "transfer/transfer_behavior.h"
#include "transfer/transfer_work.h"

namespace qelt {
namespace {

WorkLogManager* WorkLog(TransferWorkInterface& iface) {
    TransferBehavior* behavior = iface.GetBehavior();
    return behavior ? behavior->workLogManager : nullptr;
}

}  // namespace

void RegisterTransferObservers(Work& work, TransferWorkInterface& iface, WorkCompleteCallback* milestone) {
    if (milestone) work.AddCompleteCallback(milestone);
    if (WorkLogManager* log = WorkLog(iface)) work.AddCompleteCallback(log);
}

void RegisterRetryingTransferObservers(SimpleWork& work, TransferWorkInterface& iface,
                                       WorkCompleteCallback* milestone) {
    RegisterTransferObservers(work, iface, milestone);
    if (WorkLogManager* log = WorkLog(iface)) work.AddRetryCallback(log);
}

void DescribeTransferWork(ptree& out, const char* name, bool important, TransferWorkInterface& iface) {
    out.put("name", name);
    if (important) out.put("important", "true");
    iface.GetParams().Describe(out);
}

}  // namespace qelt
