#pragma once

#include "work/work.h"

namespace qelt {

class TransferWorkInterface;

// The wiring every transfer work does in its constructor: the interface's milestone callback for the works that
// have one (null: none), then the work log's completion observer when the behaviour has a work log.
void RegisterTransferObservers(Work& work, TransferWorkInterface& iface,
                               WorkCompleteCallback* milestone = nullptr);
// The same for a leaf that retries in place: the work log also hears every retry.
void RegisterRetryingTransferObservers(SimpleWork& work, TransferWorkInterface& iface,
                                       WorkCompleteCallback* milestone = nullptr);

// The head of every transfer work's description: "name", "important" = "true" for the works the log marks as
// such, then the transfer's parameters. Takes the transfer's lock for the parameters.
void DescribeTransferWork(ptree& out, const char* name, bool important, TransferWorkInterface& iface);

}  // namespace qelt
