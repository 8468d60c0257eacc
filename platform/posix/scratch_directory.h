// The scratch-directory fixture, under the name the POSIX tests know it by.
#pragma once

#include "platform/scratch_directory.h"
