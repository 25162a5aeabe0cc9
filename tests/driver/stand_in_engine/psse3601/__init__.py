"""Version package of the stand-in engine: importing it is all that matters."""
