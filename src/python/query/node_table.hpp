// The Node objects of a node dict in dict order, kept between runs while the
// dict is unchanged (kept_per_dict.hpp), with indexes of their properties by
// value: where a node match with a property map, or with an equality in the
// `where` right after it, finds its nodes without a scan.
//
// A Node's `properties` can be assigned without the node dict changing, so
// these indexes also check that no Node's value was written since they were
// made (property_index.hpp).
#pragma once

#include <Python.h>

#include <memory>
#include <vector>

#include "query/property_index.hpp"

namespace velarto::py::query {

struct NodeTable {
    std::vector<PyObject*> nodes; // the dict's Node objects, in its order: borrowed
    PropertyIndexes property_indexes;

    // The dicts the nodes hold now, by position.
    DictOwners owners() const;
    std::size_t bytes() const { return nodes.capacity() * sizeof(PyObject*) + property_indexes.bytes(); }
};

// The table of `dict` as it is now, kept or made; nullptr with the scan's
// TypeError set when a value is not a Node.
std::shared_ptr<NodeTable> node_table(PyObject* dict);

} // namespace velarto::py::query
