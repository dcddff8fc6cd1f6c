#include "work/no_op_work.h"

#include <boost/property_tree/ptree.hpp>

namespace qelt {

void NoOpWork::Describe(ptree& out) const {
    out.put("name", "NoOpWork");
}

}  // namespace qelt
