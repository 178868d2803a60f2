#include "defs/dictionary.h"

dictionary* dict_anchor = nullptr;
