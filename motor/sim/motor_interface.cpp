#include "vorn_motor/motor_interface.h"

MotorInterface::~MotorInterface() = default;
