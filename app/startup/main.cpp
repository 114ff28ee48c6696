#include "Startup.h"

int main(int argc, char **argv)
{
    return RunQuirewell(argc, argv);
}
