"""Plan one landing and print a short summary; write its plot and tables on request.

    python -m tarvo                        the built-in default configuration
    python -m tarvo CONFIG.json            a configuration document ('-' reads stdin)
    python -m tarvo --print-default-config the default configuration document
    python -m tarvo --help                 every option

The `tarvo` command is the same program.
"""

import sys

from .cli.main import main

if __name__ == "__main__":
    sys.exit(main())
