#include "registration/registration.h"
