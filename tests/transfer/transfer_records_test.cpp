#include <gtest/gtest.h>

#include <boost/property_tree/ptree.hpp>

#include "transfer/transfer_params.h"
#include "transfer/transfer_status.h"

namespace qelt {
namespace {

TEST(TransferParamsDescribe, WritesTheFiveIdsInOrderAndNotSuspended) {
    TransferParams params;
    params.transferId = "0123";
    params.packageId = "pkg.with.dots";
    params.suspended = true;
    ptree tree;
    params.Describe(tree);
    std::vector<std::pair<std::string, std::string>> written;
    for (const auto& [key, value] : tree)
        written.emplace_back(key, value.data());
    EXPECT_EQ(written, (std::vector<std::pair<std::string, std::string>>{{"transferId", "0123"},
                                                                         {"partnerId", "?"},
                                                                         {"packageId", "pkg.with.dots"},
                                                                         {"versionId", "?"},
                                                                         {"destPath", "?"}}));
}

TEST(TransferStateQueries, InactiveStatesAndErrorKinds) {
    for (auto state :
         {TransferState::Unknown, TransferState::Suspended, TransferState::Complete, TransferState::Cancelled}) {
        EXPECT_TRUE(IsInactive(state));
    }
    for (auto state : {TransferState::Initializing, TransferState::InitializingPaused, TransferState::Initialized,
                       TransferState::Transferring, TransferState::TransferringPaused}) {
        EXPECT_FALSE(IsInactive(state));
    }
    TransferStatus status;
    EXPECT_FALSE(status.HasFatalError() || status.HasRetryableError());
    status.error = TransferError::ChecksumError;
    EXPECT_TRUE(status.HasFatalError());
    status.errorRetryable = true;
    EXPECT_TRUE(status.HasRetryableError());
    EXPECT_FALSE(status.HasFatalError());
}

}  // namespace
}  // namespace qelt
