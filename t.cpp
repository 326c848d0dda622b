#include "vorn_io/vorn_io.h"
static_assert(sizeof(UpdownLifter::MoveOutcome) == 0, "");
