#include "pipeline/allow_execute_work.h"

#include "manifest/file_manifest.h"
#include "manifest/package_manifest.h"
#include "pipeline/status_data.h"
#include "pipeline/transfer_work_wiring.h"
#include "storage/file_exception.h"
#include "storage/shared_file.h"
#include "transfer/transfer_behavior.h"

namespace qelt {

AllowExecuteWork::AllowExecuteWork(std::shared_ptr<TransferWorkInterface> iface) : TransferWork(std::move(iface)) {
    RegisterTransferObservers(*this, *iface_);
}

void AllowExecuteWork::Describe(ptree& out) const {
    DescribeTransferWork(out, "AllowExecuteWork", true, *iface_);
}

WorkStatus AllowExecuteWork::ExecuteTask() {
    try {
        const std::shared_ptr<PackageManifest> package = iface_->GetPackage();
        if (!package) {
            return WorkStatus(WorkResult::FatalError,
                              std::make_shared<TransferErrorData>(TransferError::InternalError,
                                                                  "AllowExecuteWork::ExecuteTask has no package"));
        }
        SharedFileFactory& files = *iface_->GetBehavior()->sharedFileFactory;
        const std::string& folder = iface_->Params()->destPath;
        for (const auto& file : package->GetFiles()) {
            if (!files.IsExecutable(folder, file->GetPath())) continue;
            auto opened =
                files.Open(folder, file->GetPath(), SharedFileMode::OpenExisting, 0, kUnboundedUpperBound);
            if (!opened->AllowExecute()) throw FileInUseException();
        }
        return WorkStatus(WorkResult::Success);
    } catch (...) {
        return FileExceptionStatus();
    }
}

}  // namespace qelt
