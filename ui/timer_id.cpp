#include "ui/timer_id.h"

#include <cstdlib>
#include <ctime>

unsigned draw_timer_id() {
    std::srand(static_cast<unsigned>(std::time(nullptr)));
    return static_cast<unsigned>(std::rand());
}
