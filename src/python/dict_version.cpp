// Dict versions: the version tag on 3.11, a dict watcher's event count on
// 3.12+. Numbers from the watcher come from one process-wide counter, so a
// dict freed and another allocated at the same address never repeat a number
// that a scan may still hold.
#include "dict_version.hpp"

#if PY_VERSION_HEX >= 0x030C0000
#include <unordered_map>
#endif

namespace velarto::py {

namespace {
DictFreedListener freed_listener = nullptr;
} // namespace

void on_dict_freed(DictFreedListener listener) { freed_listener = listener; }

#if PY_VERSION_HEX >= 0x030C0000

namespace {

int watcher_id = -1;
std::uint64_t last_version = 0;
std::unordered_map<PyObject*, std::uint64_t>* versions = nullptr; // watched dict -> version

// Called by the interpreter before each change of a watched dict; it never
// runs Python code and never fails.
int on_dict_event(PyDict_WatchEvent event, PyObject* dict, PyObject*, PyObject*) {
    if (event == PyDict_EVENT_DEALLOCATED) {
        versions->erase(dict);
        if (freed_listener) freed_listener(dict);
    } else {
        (*versions)[dict] = ++last_version;
    }
    return 0;
}

} // namespace

bool init_dict_versions() {
    if (watcher_id >= 0) return true;
    versions = new std::unordered_map<PyObject*, std::uint64_t>();
    watcher_id = PyDict_AddWatcher(on_dict_event);
    return watcher_id >= 0;
}

std::uint64_t dict_version(PyObject* dict) {
    auto found = versions->find(dict);
    if (found != versions->end()) return found->second;
    if (PyDict_Watch(watcher_id, dict) < 0) return 0;
    std::uint64_t version = ++last_version;
    versions->emplace(dict, version);
    return version;
}

void releasing_dict(PyObject*) {}

std::uint64_t dict_writes() { return last_version; }

#else

bool init_dict_versions() { return true; }

std::uint64_t dict_writes() { return 0; }

std::uint64_t dict_version(PyObject* dict) { return reinterpret_cast<PyDictObject*>(dict)->ma_version_tag; }

// Only the last reference frees: a dict has no finalizer to bring it back.
void releasing_dict(PyObject* dict) {
    if (dict && freed_listener && Py_REFCNT(dict) == 1) freed_listener(dict);
}

#endif

} // namespace velarto::py
