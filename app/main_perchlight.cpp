#include "app/PortraitPerchApp.h"

int main(int argc, char** argv)
{
    return PortraitPerchApp::main(argc, argv, Edition::Perchlight);
}
