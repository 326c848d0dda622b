#include "vorn_io/virtual_gripper.h"

VirtualGripper::VirtualGripper() = default;

VirtualGripper::~VirtualGripper() = default;

int VirtualGripper::setIoStatus(int /*status*/) { return 0; }

int VirtualGripper::getIoStatus(int& /*status*/) { return 0; }
