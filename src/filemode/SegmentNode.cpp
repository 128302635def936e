#include "filemode/SegmentNode.h"

namespace qhs {

SegmentNode::~SegmentNode() {
    std::unique_ptr<SegmentNode> rest = std::move(next);
    while (rest) {
        // Detaching the tail first leaves the node being freed without a successor.
        rest = std::move(rest->next);
    }
}

}  // namespace qhs
