// Process entry: builds the skin of the working directory; arguments are ignored.
#include "skin/skin.h"

int main()
{
    build_skin();
    return 0;
}
