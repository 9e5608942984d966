// The last two lines of every program's usage text.
#pragma once

#define VIQR_TOOLS_AUTHOR_LINE "Author:  the viqr-tools maintainers <maintainers@viqr-tools.org>\n"
#define VIQR_TOOLS_MAKER_LINE "         viqr-tools, free software under the MIT licence\n"
