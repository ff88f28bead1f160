#include "tests/driver/driver.h"
