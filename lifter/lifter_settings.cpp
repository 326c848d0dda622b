#include "lifter/lifter_settings.h"

#include <cmath>
#include <limits>

#include "vorn_io/config_keys.h"
#include "vorn_io/logger.h"

namespace vorn_io::lifter {
namespace {

namespace key = vorn_io::keys::lifter;
using vorn_io::keys::FallbackOf;

constexpr float kMaxposCap = 480.0F;

}  // namespace

void ReadSettings(const YAML::Node& node, Settings& settings) {
  // "id", "dev_name", "mode" and "master_id" have no fallback: a value that
  // does not convert is a broken description and raises yaml-cpp's error.
  if (node[key::kId.name]) {
    settings.id = node[key::kId.name].as<int>();
  }
  if (node[key::kDevName.name]) {
    settings.dev_name = node[key::kDevName.name].as<std::string>();
  }
  if (node[key::kMode.name]) {
    settings.mode = node[key::kMode.name].as<int>();
  }
  if (node[key::kMasterId.name]) {
    settings.master_id = node[key::kMasterId.name].as<int>();
  }
  if (node[key::kMaxpos.name]) {
    settings.maxpos = node[key::kMaxpos.name].as<float>(FallbackOf<float>(key::kMaxpos));
  }
  if (node[key::kFreq.name]) {
    settings.freq = node[key::kFreq.name].as<unsigned int>(FallbackOf<unsigned int>(key::kFreq));
  }
  // An absent "speed" keeps the default; only an unreadable one gives the fallback.
  if (node[key::kSpeed.name]) {
    settings.speed = node[key::kSpeed.name].as<float>(FallbackOf<float>(key::kSpeed));
  }
}

float NormaliseMaxpos(float maxpos) {
  if (maxpos < 0.0F) {
    return -maxpos;
  }
  return maxpos > kMaxposCap ? kMaxposCap : maxpos;
}

void ReplaceUnusable(Settings& settings) {
  // 1000 / freq ms is the tick period: a zero would divide by zero.
  if (settings.freq == 0) {
    settings.freq = FallbackOf<unsigned int>(key::kFreq);
    LOG_ERROR("Invalid freq: 0, use {}\r\n", settings.freq);
  }
  if (settings.freq > kMaxFreq) {
    const unsigned int given = settings.freq;
    settings.freq = kMaxFreq;
    LOG_ERROR("Invalid freq: {}, use {}\r\n", given, settings.freq);
  }
  // The move ends when the ramp passes maxpos, which never happens for NaN or infinity.
  if (!std::isfinite(settings.maxpos)) {
    const float given = settings.maxpos;
    settings.maxpos = FallbackOf<float>(key::kMaxpos);
    LOG_ERROR("Invalid maxpos: {}, use {:.2f}\r\n", given, settings.maxpos);
  }
  // A zero or NaN speed never advances the ramp. A negative one reverses the
  // direction of both moves; it is kept as configured.
  if (settings.speed == 0.0F || !std::isfinite(settings.speed)) {
    const float given = settings.speed;
    settings.speed = FallbackOf<float>(key::kSpeed);
    LOG_ERROR("Invalid speed: {}, use {}\r\n", given, settings.speed);
  }
}

std::chrono::duration<double, std::milli> TickPeriod(unsigned int freq) {
  return std::chrono::duration<double, std::milli>(1000.0 / static_cast<double>(freq));
}

float StepOf(float speed, unsigned int freq, bool positive) {
  const float step = speed / static_cast<float>(freq);
  return positive ? step : -step;
}

bool RampEnds(float step, float maxpos) {
  const float magnitude = std::fabs(step);
  if (!(magnitude > 0.0F) || !std::isfinite(maxpos)) {
    return false;
  }
  // The spacing of floats just above the travel is the widest the ramp meets
  // before it passes it: a step above half of it always moves the ramp on.
  const float spacing = std::nextafter(maxpos, std::numeric_limits<float>::infinity()) - maxpos;
  return magnitude > spacing / 2.0F;
}

}  // namespace vorn_io::lifter
