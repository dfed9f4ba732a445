// A version number for a dict that changes on every write to it, a
// same-size replacement included, on every supported interpreter.
//
// 3.11 keeps such a number in the dict itself (its version tag). From 3.12 on
// the tag is deprecated, so the module registers one dict watcher and counts
// the events of the dicts it is asked about; a dict is watched from the first
// question on until it is freed. Scans use it to notice that Python code they
// ran changed the dict they walk, and kept indexes to notice that they are
// stale.
//
// Kept indexes must also go when their dict is freed. 3.12+ hears of that
// from the same watcher. 3.11 has no such event and its dicts take no weak
// references, so there the module's own holders of graph dicts report each
// reference they drop (`releasing_dict`), and a drop of the last one is a
// dict freed. A dict whose last reference other code drops goes unheard on
// 3.11.
#pragma once

#include <Python.h>

#include <cstdint>

namespace velarto::py {

// Registers the watcher (3.12+). Called once, when the module is created;
// false with an exception set when the interpreter has no watcher left.
bool init_dict_versions();

// The current version of `dict`: equal numbers mean no write in between. On
// 3.12+ the first call starts watching the dict; a failure to watch it is
// reported as 0 with an exception set.
std::uint64_t dict_version(PyObject* dict);

// Marks of the writes of dicts: `no_dict_written_since(mark)` is true only
// when no dict this module asked a version of was written after `mark` was
// taken, and moves `mark` to now. False can also mean "cannot tell": the
// caller then compares the versions it holds one by one. 3.12+ counts the
// watcher's events; 3.11 reads its process-wide version counter by writing a
// dict of its own, so its marks move by one per reading when nothing else
// was written.
std::uint64_t dict_write_mark();
bool no_dict_written_since(std::uint64_t& mark);

// Adds a function told of freed dicts (see above; a few at most, each once).
// It must not run Python code or fail: on 3.12+ it runs inside the dict's
// deallocation.
using DictFreedListener = void (*)(PyObject* dict);
void on_dict_freed(DictFreedListener listener);

// A holder is about to drop its reference to `dict` (null: none). Does
// nothing on 3.12+, where the watcher hears of every watched dict.
void releasing_dict(PyObject* dict);

} // namespace velarto::py
