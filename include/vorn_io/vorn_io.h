#pragma once

// Everything a host program needs from vorn_io.
#include "vorn_io/bounded_writer.h"
#include "vorn_io/config_keys.h"
#include "vorn_io/description.h"
#include "vorn_io/description_file.h"
#include "vorn_io/gripper/servo_gripper.h"
#include "vorn_io/lifter.h"
#include "vorn_io/logger.h"
#include "vorn_io/pid.h"
#include "vorn_io/trace.h"
#include "vorn_io/version.h"
#include "vorn_io/virtual_gripper.h"
#include "vorn_io/vorn_io_interface.h"
