import sys

from gridfold.cli import main

sys.exit(main())
