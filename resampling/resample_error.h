#pragma once

// What the resampler and the interferogram raise and report through.
#include "params/file_error.h"
#include "params/progress.h"
