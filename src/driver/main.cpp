// Process entry of tarvel.
#include <cstdlib>

#include "driver/run.h"

int main(int argc, char **argv)
{
    init_state();
    std::exit(run_tool(argc, argv));
}
