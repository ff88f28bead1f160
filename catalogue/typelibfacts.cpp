#include "catalogue/typelibfacts.h"
