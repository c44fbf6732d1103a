#pragma once

// The window timer's identifier: the first value of the standard pseudo-random generator
// seeded with the calendar time in whole seconds (0..RAND_MAX).
unsigned draw_timer_id();
