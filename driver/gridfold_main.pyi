"""Integration driver."""
from collections import OrderedDict
from typing import Any, Optional

def run_integration(
    file_path: str, file_name: Optional[str], *, dispatch_check: bool = False,
    run_details: Optional[dict[tuple[str, str], dict[str, Any]]] = None,
) -> None: ...
def _build_case_lists(
    file_path: str, file_name: Optional[str]
) -> tuple[dict[str, Any], "OrderedDict[str, dict[str, Any]]", "OrderedDict[str, dict[str, Any]]"]: ...
