"""Shared log of the recording stand-in engine.

`calls` holds every call made to the stand-in psspy and caspy as (name, args, kwargs), in
order; `imported` the version packages in the order they were imported. `script` maps a
call name to the results its next calls return, first first; a call without a scripted
result returns the default result of its kind.
"""
calls = []
imported = []
script = {}


def next_result(name, default):
    queue = script.get(name)
    return queue.pop(0) if queue else default


def calls_to(name):
    """(args, kwargs) of every call to `name`, in order."""
    return [(args, kwargs) for called, args, kwargs in calls if called == name]


def names():
    return [name for name, _, _ in calls]
