#pragma once

#include "work/work.h"

namespace qelt {

// A leaf that does nothing and succeeds: the branch of a chunk already correct on disk, the content of a deferred
// slot never filled.
class NoOpWork : public SimpleWork {
public:
    void Describe(ptree& out) const override;
    WorkStatus ExecuteTask() override { return WorkStatus(WorkResult::Success); }
    void Cancel() override {}
};

}  // namespace qelt
