#include "vorn_io/vorn_io_interface.h"

// Defined out of line so that the vtable and typeinfo live in the library.
VornIoInterface::~VornIoInterface() = default;
