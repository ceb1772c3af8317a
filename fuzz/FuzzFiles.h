#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// A private folder for one fuzzing process, removed when it exits.
const std::string& fuzzFolder();
