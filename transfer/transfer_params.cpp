#include "transfer/transfer_params.h"

#include <boost/property_tree/ptree.hpp>

namespace qelt {

void TransferParams::Describe(ptree& out) const {
    out.put("transferId", transferId);
    out.put("partnerId", partnerId);
    out.put("packageId", packageId);
    out.put("versionId", versionId);
    out.put("destPath", destPath);
}

}  // namespace qelt
