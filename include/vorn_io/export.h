#pragma once

// The library is built with hidden visibility; this marks what it exports.
#define VORN_IO_EXPORT __attribute__((visibility("default")))
