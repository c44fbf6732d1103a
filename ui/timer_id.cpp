#include "ui/timer_id.h"

#include <cstdlib>
#include <ctime>

namespace {

// Every C library's generator covers 0..32767 (RAND_MAX is at least that); one that reaches
// further is cut down to it, so the identifier is the same kind of number everywhere.
constexpr unsigned TIMER_ID_RANGE = 32768;

}  // namespace

unsigned draw_timer_id() {
    return first_timer_id(static_cast<unsigned>(std::time(nullptr)));
}

unsigned first_timer_id(unsigned seed) {
    std::srand(seed);
    return static_cast<unsigned>(std::rand()) % TIMER_ID_RANGE;
}
