#pragma once

// The window timer's identifier: the first value, 0..32767, of the standard pseudo-random
// generator seeded with the calendar time in whole seconds.
unsigned draw_timer_id();

// The same draw for a given seed.
unsigned first_timer_id(unsigned seed);
