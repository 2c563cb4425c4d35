#pragma once

#include "views/Edition.h"

// The process entry shared by both editions: checks that a display is there, keeps a
// single instance per user, creates the one AppDelegate, tells it when launching has
// finished and runs the event loop until the program is asked to quit.
namespace PortraitPerchApp {

int main(int argc, char** argv, Edition edition);

} // namespace PortraitPerchApp
