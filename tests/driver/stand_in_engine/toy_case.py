"""Toy working case shared by the stand-in psspy and caspy: case files are JSON.

A case holds buses (number, name, base kV, in service), line branches (from, to, circuit)
and machines (bus, id). That is enough for the driver's sequencing: renumbering sees the
buses, the branch walk sees the branches, the machine walk sees the machines.
"""
import json
import os


def empty_case():
    return {"buses": [], "branches": [], "machines": []}


def read_case(path):
    with open(path) as file:
        case = json.load(file)
    if set(case) != {"buses", "branches", "machines"}:
        raise ValueError("not a stand-in case file: " + path)
    return case


def write_case(path, case):
    temp = path + ".writing"
    with open(temp, "w") as file:
        json.dump(case, file, indent=1)
    os.replace(temp, path)


def bus(number, name, baskv=110.0):
    return {"NUM": number, "NAME": name, "BASKV": baskv, "IN_SERVICE": True}


def branch(from_bus, to_bus, ckt="1"):
    return {"FRMBUS": from_bus, "TOBUS": to_bus, "CKT": ckt}


def machine(number, machine_id="1"):
    return {"NUM": number, "ID": machine_id}
