// The libraries' names in the global scope, as the program, its tools and its tests
// write them (Sparams, cmatrix, format, RI, ...): the library code lives in namespace
// brevo, and a program includes this header rather than naming the namespace at every
// use.
#pragma once

#include "TouchstoneCore.h"
#include "TouchstoneStandard.h"
#include "cmatrix.h"
#include "fit0124Function.h"

using namespace brevo;
