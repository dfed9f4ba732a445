// What waits for the last reading run to end (reading_runs.hpp).
#include "reading_runs.hpp"

#include "held_value.hpp"

namespace velarto::py {

namespace {

std::vector<ValueKeeper*> waiting_keepers;
std::vector<Ref> waiting_objects;

} // namespace

void ReadingRun::release_keeper(ValueKeeper* keeper) {
    if (depth_ == 0) {
        keeper->destroy();
        return;
    }
    keeper->waiting = true;
    waiting_keepers.push_back(keeper);
    waiting_ = true;
}

void ReadingRun::drop_objects(std::vector<Ref>&& objects) {
    if (depth_ == 0) {
        std::vector<Ref> dropped = std::move(objects); // decrefs here, may run Python code
        return;
    }
    waiting_objects.reserve(waiting_objects.size() + objects.size());
    for (Ref& object : objects) waiting_objects.push_back(std::move(object));
    objects.clear();
    waiting_ = true;
}

void ReadingRun::finish() {
    // Freeing runs Python code (a finalizer among the values' properties),
    // which may start and end runs of its own and add to the lists: each
    // round takes the lists out first, and rounds go on until they stay empty.
    while (waiting_) {
        waiting_ = false;
        std::vector<ValueKeeper*> keepers = std::move(waiting_keepers);
        waiting_keepers.clear();
        std::vector<Ref> objects = std::move(waiting_objects);
        waiting_objects.clear();
        for (ValueKeeper* keeper : keepers) {
            keeper->waiting = false;
            // A reader may have come back since (an object made from the same store).
            if (keeper->objects == 0) keeper->destroy();
        }
        objects.clear();
    }
}

} // namespace velarto::py
