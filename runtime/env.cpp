#include "runtime/env.h"

ENV_VARS env_vars{};
