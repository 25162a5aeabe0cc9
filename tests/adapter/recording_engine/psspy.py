"""Recording stand-in for the engine's psspy: every call is logged with its arguments and
answered with a scripted result or the default result of its kind. Only the engine calls
the adapter may make exist; any other name is an AttributeError, as on the real module."""
import recording_log as _log

# Calls returning (ierr, computed values), (ierr, value) or longer sequences; all others
# return the integer ierr.
_DEFAULTS = {
    "two_winding_data_6": (0, [0.0]),
    "three_wnd_imped_data_4": (0, [0.0]),
    "three_wnd_winding_data_5": (0, [0.0]),
    "busdat": (0, 1.0),
    "nxtmac": (0, "1"),
    "inibrn_2": (0, 0),
    "nxtbrn_2": (0, 0, 0, "1"),
    "nxtbrn3_2": (0, 0, 0, 0, 0, "1"),
}

_NAMES = """
psseinit progress_output lines_per_page_one_device
rsol fnsl solved
case save close_powerflow deltmpfiles busdat
inibrn_2 nxtbrn_2 nxtbrn3_2 inimac nxtmac dscn recn bus_chng_4
machine_chng_2 machine_chng_3 machine_chng_4 machine_chng_5
bus_data_4 branch_data_3 branch_data_4 two_winding_data_6 three_wnd_imped_data_4
three_wnd_winding_data_5 plant_data_4 machine_data_2 machine_data_3 machine_data_4
machine_data_5 shunt_data shunt_data_2 switched_shunt_data_4 switched_shunt_data_5
switched_shunt_data_6 load_data_5 load_data_6 load_data_7 induction_machine_data
induction_machine_data_2
""".split()


def _recorder(name):
    def call(*args, **kwargs):
        _log.calls.append((name, args, kwargs))
        return _log.next_result(name, _DEFAULTS.get(name, 0))

    call.__name__ = name
    return call


for _name in _NAMES:
    globals()[_name] = _recorder(_name)
