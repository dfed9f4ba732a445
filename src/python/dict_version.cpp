// Dict versions: the version tag on 3.11, a dict watcher's event count on
// 3.12+. Numbers from the watcher come from one process-wide counter, so a
// dict freed and another allocated at the same address never repeat a number
// that a scan may still hold.
#include "dict_version.hpp"

#include <array>

#if PY_VERSION_HEX >= 0x030C0000
#include <unordered_map>
#endif

namespace velarto::py {

namespace {

// The kept indexes of edge dicts and of node dicts: a listener each.
std::array<DictFreedListener, 4> freed_listeners{};

void tell_freed(PyObject* dict) {
    for (DictFreedListener listener : freed_listeners) {
        if (listener) listener(dict);
    }
}

[[maybe_unused]] bool any_freed_listener() { return freed_listeners[0] != nullptr; }

} // namespace

void on_dict_freed(DictFreedListener listener) {
    for (DictFreedListener& slot : freed_listeners) {
        if (slot == listener) return;
        if (!slot) {
            slot = listener;
            return;
        }
    }
}

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
        tell_freed(dict);
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

std::uint64_t dict_write_mark() { return last_version; }

bool no_dict_written_since(std::uint64_t& mark) {
    const bool same = mark == last_version;
    mark = last_version;
    return same;
}

#else

namespace {

// A dict of the module's own whose one entry flips at each reading: its new
// version tag is the interpreter's count of dict writes so far.
PyObject* counter_dict = nullptr;
PyObject* counter_key = nullptr;

} // namespace

bool init_dict_versions() {
    if (counter_dict) return true;
    counter_key = PyUnicode_InternFromString("writes");
    counter_dict = counter_key ? PyDict_New() : nullptr;
    return counter_dict && PyDict_SetItem(counter_dict, counter_key, Py_False) == 0;
}

// Readings that follow each other with no other write between them keep one
// mark; any other write moves it.
std::uint64_t last_tag = 0;
std::uint64_t mark_now = 1;

std::uint64_t dict_write_mark() {
    // The key is present: the write replaces a value, never allocates or fails.
    PyObject* flipped = PyDict_GetItem(counter_dict, counter_key) == Py_True ? Py_False : Py_True;
    PyDict_SetItem(counter_dict, counter_key, flipped);
    const std::uint64_t tag = reinterpret_cast<PyDictObject*>(counter_dict)->ma_version_tag;
    if (tag != last_tag + 1) ++mark_now;
    last_tag = tag;
    return mark_now;
}

bool no_dict_written_since(std::uint64_t& mark) {
    const std::uint64_t now = dict_write_mark();
    const bool same = now == mark;
    mark = now;
    return same;
}

std::uint64_t dict_version(PyObject* dict) { return reinterpret_cast<PyDictObject*>(dict)->ma_version_tag; }

// Only the last reference frees: a dict has no finalizer to bring it back.
void releasing_dict(PyObject* dict) {
    if (dict && any_freed_listener() && Py_REFCNT(dict) == 1) tell_freed(dict);
}

#endif

} // namespace velarto::py
