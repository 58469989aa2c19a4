#include "base/run_options.h"

RunOptions Options = kDefaultRunOptions;
