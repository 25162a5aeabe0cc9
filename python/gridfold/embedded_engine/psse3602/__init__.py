"""Version package of the embedded engine; importing it selects nothing more: the embedded engine serves every version."""
