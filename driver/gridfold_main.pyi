"""Integration driver."""
from collections import OrderedDict
from typing import Any, Callable, Optional

def run_integration(
    file_path: str,
    file_name: Optional[str],
    *,
    select_cases: Optional[Callable[[Any, Any], tuple[Any, Any]]] = None,
) -> None: ...
def _build_case_lists(
    file_path: str, file_name: Optional[str]
) -> tuple[dict[str, Any], "OrderedDict[str, dict[str, Any]]", "OrderedDict[str, dict[str, Any]]"]: ...
