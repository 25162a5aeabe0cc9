"""Integration driver."""
from collections import OrderedDict
from typing import Any, Optional

def run_integration(file_path: str, file_name: Optional[str]) -> None: ...
def _build_case_lists(
    file_path: str, file_name: Optional[str]
) -> tuple[dict[str, Any], "OrderedDict[str, dict[str, Any]]", "OrderedDict[str, dict[str, Any]]"]: ...
