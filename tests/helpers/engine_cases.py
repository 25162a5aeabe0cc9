"""Builders of test cases through the embedded engine's psspy API.

Two kinds of case:

* a small main network (``build_main_network`` / ``save_main_case``): six buses at 230 kV and
  69 kV, a swing machine and a second plant, loads, lines, a fixed shunt and a two-winding
  transformer;
* small cases, one generating plant each, joined to the main network at one connecting bus
  (the point of interconnection, ``poi_bus``):
  - ``save_solar_case``: gen-tie line, two-winding main transformer, collector equivalent,
    inverter machine, switched capacitor bank, auxiliary load;
  - ``save_wind_case``: gen-tie line, three-winding main transformer with a tertiary reactor,
    collector equivalent, a converter machine and an induction machine, auxiliary load.

``build_*`` functions add to the engine's working case as it is; ``save_*`` functions start
the engine afresh (``psseinit``), build, save the case to ``path`` and return the saved path.
Every engine call is checked: a nonzero ierr raises ``EngineCallError`` naming the call.

In a small case the connecting bus is a swing bus without a machine: the plant's own buses
carry all the equipment, so that adding the small case into a main case never adds a source
at the connecting bus. Pass ``grid_equivalent=True`` for a small case that can be solved on
its own (a swing machine at the connecting bus). A ``build_*_plant`` call on a working case
that already holds the connecting bus (the main network) leaves that bus as it is, which
gives a merged network that solves.
"""
import os

MAIN_SWING_BUS = 101
MAIN_BUSES = (101, 102, 103, 104, 105, 201)

SOLAR_BUSES = (1001, 1002, 1003)  # gen-tie end (230 kV), collector (34.5 kV), inverters (34.5 kV)
WIND_BUSES = (2001, 2002, 2003, 2004)  # HV (230 kV), collector (34.5 kV), tertiary (13.8 kV), turbines (0.69 kV)


class EngineCallError(AssertionError):
    """An engine call made by a builder returned a nonzero error code."""


def _ok(result, call):
    code = result[0] if isinstance(result, tuple) else result
    if code != 0:
        raise EngineCallError(f"{call} returned ierr {code}")
    return result


def _save(psspy, path):
    """Save the working case; returns the path written (".sav" added without an extension)."""
    path = str(path)
    _ok(psspy.save(path), f"save {path}")
    return path if os.path.splitext(path)[1] else path + ".sav"


def _bus(psspy, number, base_kv, name, ide=1, vm=1.0, area=1, zone=1):
    _ok(psspy.bus_data_4(ibus=number, inode=0, intgar1=ide, intgar2=area, intgar3=zone, intgar4=1,
                         realar1=base_kv, realar2=vm, realar3=0.0, name=name), f"bus_data_4 {number}")


def _line(psspy, i, j, r, x, b, rate, ckt="1", name=""):
    _ok(psspy.branch_data_3(ibus=i, jbus=j, ckt=ckt, realar1=r, realar2=x, realar3=b,
                            ratings1=rate, ratings2=rate * 1.1, namear=name), f"branch_data_3 {i}-{j}")


def _plant_and_machine(psspy, bus, vs, pg, qt, qb, pt, pb, mbase, machine_id="1", name=""):
    _ok(psspy.plant_data_4(ibus=bus, inode=0, intgar1=0, realar1=vs, realar2=100.0), f"plant_data_4 {bus}")
    _ok(psspy.machine_data_5(ibus=bus, id=machine_id, intgar1=1, realar1=pg, realar3=qt, realar4=qb,
                             realar5=pt, realar6=pb, realar7=mbase, realar9=0.25, namear2=name),
        f"machine_data_5 {bus}")


def build_main_network(psspy):
    """Add the main network to the working case; returns the tuple of its bus numbers.

    Buses 101-105 at 230 kV (101 swing, 102 generator), bus 201 at 69 kV behind a 100 MVA
    230/69 kV transformer from bus 103. Loads at 102, 103, 105 and 201 (330 MW in all), a
    20 Mvar capacitor at 104, machines at 101 (swing) and 102 (120 MW).
    """
    _bus(psspy, 101, 230.0, "NORTH", ide=3, vm=1.02)
    _bus(psspy, 102, 230.0, "EAST", ide=2, vm=1.01)
    _bus(psspy, 103, 230.0, "SOUTH")
    _bus(psspy, 104, 230.0, "WEST")
    _bus(psspy, 105, 230.0, "CENTRAL")
    _bus(psspy, 201, 69.0, "SOUTH 69")
    _plant_and_machine(psspy, 101, 1.02, 220.0, 300.0, -150.0, 500.0, 0.0, 600.0, name="NORTH G1")
    _plant_and_machine(psspy, 102, 1.01, 120.0, 80.0, -60.0, 150.0, 0.0, 180.0, name="EAST G1")
    for bus, p, q in ((102, 60.0, 20.0), (103, 90.0, 30.0), (105, 100.0, 35.0), (201, 80.0, 25.0)):
        _ok(psspy.load_data_6(ibus=bus, id="1", intgar1=1, realar1=p, realar2=q), f"load_data_6 {bus}")
    _line(psspy, 101, 102, 0.0040, 0.0400, 0.080, 400.0, name="NORTH-EAST")
    _line(psspy, 101, 103, 0.0050, 0.0500, 0.100, 400.0)
    _line(psspy, 102, 103, 0.0030, 0.0300, 0.060, 300.0)
    _line(psspy, 102, 104, 0.0060, 0.0600, 0.120, 300.0)
    _line(psspy, 103, 104, 0.0040, 0.0450, 0.090, 300.0)
    _line(psspy, 104, 105, 0.0035, 0.0350, 0.070, 300.0)
    _line(psspy, 101, 105, 0.0080, 0.0800, 0.160, 300.0, ckt="2")
    _ok(psspy.two_winding_data_6(ibus=103, jbus=201, ckt="T1", intgar1=1, intgar15=2, realari1=0.003,
                                 realari2=0.10, realari3=100.0, realari4=1.0, realari7=1.0, ratings1=100.0,
                                 namear="SOUTH T1"), "two_winding_data_6 103-201")
    _ok(psspy.shunt_data(ibus=104, id="1", intgar1=1, realar1=0.0, realar2=20.0), "shunt_data 104")
    return MAIN_BUSES


def save_main_case(psspy, path):
    """Start the engine afresh, build the main network and save it to path; returns the path."""
    _ok(psspy.psseinit(buses=1000), "psseinit")
    build_main_network(psspy)
    return _save(psspy, path)


def _connecting_bus(psspy, poi_bus, grid_equivalent):
    """The connecting bus: made (a swing bus) when the working case lacks it, else left as it is."""
    if psspy.busdat(poi_bus, "TYPE")[0] == 0:
        return
    _bus(psspy, poi_bus, 230.0, "POI", ide=3, vm=1.0)
    if grid_equivalent:
        _plant_and_machine(psspy, poi_bus, 1.0, 0.0, 9999.0, -9999.0, 9999.0, -9999.0, 1000.0, name="GRID")


def build_solar_plant(psspy, poi_bus=104, buses=SOLAR_BUSES, mw=100.0, grid_equivalent=False):
    """Add a solar plant joined at poi_bus to the working case; returns its bus numbers.

    buses = (gen-tie end 230 kV, collector 34.5 kV, inverter 34.5 kV). The plant: a 5 km
    gen-tie line, a 230/34.5 kV main transformer (impedance on its 120 MVA base), a collector
    equivalent branch, one inverter machine of `mw` MW with +-0.33 pu reactive range, a
    switched capacitor bank of 2 x 10 Mvar on the collector bus and a 0.5 MW auxiliary load.
    """
    hv, collector, inverter = buses
    _connecting_bus(psspy, poi_bus, grid_equivalent)
    _bus(psspy, hv, 230.0, "SOLAR HV")
    _bus(psspy, collector, 34.5, "SOLAR MV")
    _bus(psspy, inverter, 34.5, "SOLAR INV", ide=2)
    _line(psspy, poi_bus, hv, 0.0002, 0.0020, 0.004, 250.0, name="SOLAR GEN-TIE")
    _ok(psspy.two_winding_data_6(ibus=hv, jbus=collector, ckt="1", intgar1=1, intgar7=33, intgar15=2,
                                 realari1=0.002, realari2=0.10, realari3=120.0, realari4=1.0, realari5=230.0,
                                 realari7=1.0, realari8=34.5, ratings1=120.0, ratings2=140.0,
                                 namear="SOLAR MPT", vgrpar="YNd1"), "two_winding_data_6 solar")
    _line(psspy, collector, inverter, 0.0100, 0.0150, 0.020, 130.0, name="COLLECTOR EQ")
    q = round(mw * 0.33, 6)
    _ok(psspy.plant_data_4(ibus=inverter, inode=0, intgar1=poi_bus, realar1=1.0, realar2=100.0), "plant solar")
    _ok(psspy.machine_data_5(ibus=inverter, id="S1", intgar1=1, intgar6=1, realar1=mw, realar2=0.0,
                             realar3=q, realar4=-q, realar5=mw, realar6=0.0, realar7=mw * 1.1,
                             realar8=0.0, realar9=1.0, namear2="SOLAR INV"), "machine solar")
    _ok(psspy.switched_shunt_data_6(ibus=collector, id="1", intgar1=2, intgar9=1, intgar12=1, intgar14=1,
                                    realar1=10.0, realar9=1.03, realar10=0.98, realar11=0.0, realar12=100.0,
                                    swsnam="SOLAR CAP"), "switched_shunt solar")
    _ok(psspy.load_data_7(ibus=collector, id="AX", intgar1=1, realar1=0.5, realar2=0.1, ldname="SOLAR AUX"),
        "load solar")
    return buses


def save_solar_case(psspy, path, poi_bus=104, buses=SOLAR_BUSES, mw=100.0, grid_equivalent=False):
    """Start the engine afresh, build the solar plant and save it to path; returns the path."""
    _ok(psspy.psseinit(buses=1000), "psseinit")
    build_solar_plant(psspy, poi_bus=poi_bus, buses=buses, mw=mw, grid_equivalent=grid_equivalent)
    return _save(psspy, path)


def build_wind_plant(psspy, poi_bus=103, buses=WIND_BUSES, mw=60.0, grid_equivalent=False):
    """Add a wind plant joined at poi_bus to the working case; returns its bus numbers.

    buses = (HV 230 kV, collector 34.5 kV, tertiary 13.8 kV, turbines 0.69 kV). The plant: a
    gen-tie line, a 230/34.5/13.8 kV three-winding main transformer with a 5 Mvar reactor on
    the tertiary, a collector equivalent transformer to the turbines' bus, a converter machine
    of `mw` MW and a 10 MW induction machine at the turbines' bus, a 0.3 MW auxiliary load.
    """
    hv, collector, tertiary, turbines = buses
    _connecting_bus(psspy, poi_bus, grid_equivalent)
    _bus(psspy, hv, 230.0, "WIND HV")
    _bus(psspy, collector, 34.5, "WIND MV")
    _bus(psspy, tertiary, 13.8, "WIND TERT")
    _bus(psspy, turbines, 0.69, "WIND WTG", ide=2)
    _line(psspy, poi_bus, hv, 0.0004, 0.0040, 0.008, 200.0, name="WIND GEN-TIE")
    _ok(psspy.three_wnd_imped_data_4(ibus=hv, jbus=collector, kbus=tertiary, ckt="1", intgar1=1, intgar5=1,
                                     intgar6=2, intgar7=1, intgar8=1, intgar9=collector, realari1=0.002,
                                     realari2=0.09, realari3=0.003, realari4=0.06, realari5=0.003,
                                     realari6=0.12, realari7=80.0, realari8=40.0, realari9=40.0,
                                     namear="WIND MPT", vgrpar="YNyn0d1"), "three_wnd_imped_data_4 wind")
    for winding, (kv, rate) in enumerate(((230.0, 80.0), (34.5, 80.0), (13.8, 40.0)), start=1):
        _ok(psspy.three_wnd_winding_data_5(ibus=hv, jbus=collector, kbus=tertiary, ckt="1", warg=winding,
                                           intgar1=33, realari1=1.0, realari2=kv, ratings1=rate),
            f"three_wnd_winding_data_5 winding {winding}")
    _ok(psspy.shunt_data_2(ibus=tertiary, id="R1", intgar1=1, realar1=0.0, realar2=-5.0), "reactor wind")
    _ok(psspy.two_winding_data_6(ibus=collector, jbus=turbines, ckt="C1", intgar1=1, intgar15=2,
                                 realari1=0.006, realari2=0.06, realari3=80.0, realari4=1.0, realari7=1.0,
                                 ratings1=80.0, namear="COLLECTOR EQ"), "two_winding_data_6 collector")
    q = round(mw * 0.33, 6)
    _ok(psspy.plant_data_4(ibus=turbines, inode=0, intgar1=0, realar1=1.0, realar2=100.0), "plant wind")
    _ok(psspy.machine_data_5(ibus=turbines, id="W1", intgar1=1, intgar6=1, realar1=mw, realar3=q, realar4=-q,
                             realar5=mw, realar6=0.0, realar7=mw * 1.1, realar9=0.8, namear2="WIND WTG"),
        "machine wind")
    _ok(psspy.induction_machine_data_2(ibus=turbines, id="I1", intgar1=1, intgar2=2, intgar3=1,
                                       realar1=12.0, realar2=0.69, realar3=10.0, realar9=0.01, realar10=0.1,
                                       realar11=3.0, realar12=0.01, realar13=0.1, indnamear="WIND IM"),
        "induction wind")
    _ok(psspy.load_data_7(ibus=collector, id="AX", intgar1=1, realar1=0.3, realar2=0.05, ldname="WIND AUX"),
        "load wind")
    return buses


def save_wind_case(psspy, path, poi_bus=103, buses=WIND_BUSES, mw=60.0, grid_equivalent=False):
    """Start the engine afresh, build the wind plant and save it to path; returns the path."""
    _ok(psspy.psseinit(buses=1000), "psseinit")
    build_wind_plant(psspy, poi_bus=poi_bus, buses=buses, mw=mw, grid_equivalent=grid_equivalent)
    return _save(psspy, path)
