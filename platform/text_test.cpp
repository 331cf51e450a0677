#include "platform/text.h"

#include <gtest/gtest.h>
