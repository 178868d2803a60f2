// zemcoll: the performance data collector.
#include "collector/startup.h"

int main(int argc, char** argv) { zemcoll_main(argc, argv); }
