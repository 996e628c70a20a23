"""The CF-1.8 rules the station's NetCDF products keep, checked here rather than
by the code that writes them (Debian has no CF checker)."""

import functools
import re
import shutil
import subprocess

CF_NAME = re.compile(r"^[A-Za-z][A-Za-z0-9_]*$")
# The CF standard names these products use, as the CF table spells them.
CF_STANDARD_NAMES = {"time", "height", "latitude", "longitude", "altitude",
                     "radial_velocity_of_scatterers_away_from_instrument", "eastward_wind",
                     "northward_wind", "upward_air_velocity", "wind_speed",
                     "wind_from_direction"}
UTC_UNITS = re.compile(r"^seconds since \d{4}-\d\d-\d\d[ T]\d\d:\d\d:\d\d(\.\d+)? ?(\+00:?00|UTC|Z)$")
# Variables that need no units: names and labels.
UNITLESS_TYPES = (str,)


def cf_problems(nc):
    """What breaks the CF rules these products keep to."""
    problems = []
    for attr in ("title", "history", "institution", "source"):
        if not str(getattr(nc, attr, "")).strip():
            problems.append(f"no global {attr}")
    if getattr(nc, "Conventions", "") != "CF-1.8":
        problems.append("Conventions is not CF-1.8")
    names = list(nc.dimensions) + list(nc.variables) + nc.ncattrs()
    # Bounds take their coordinate's units.
    bounds = {getattr(var, "bounds", None) for var in nc.variables.values()}
    for name, var in nc.variables.items():
        names += var.ncattrs()
        flags = "flag_values" in var.ncattrs()  # a flag has meanings, not units
        if "units" not in var.ncattrs() and var.dtype not in UNITLESS_TYPES and not flags \
                and name not in bounds:
            problems.append(f"{name} has no units")
        if flags and len(str(getattr(var, "flag_meanings", "")).split()) != len(var.flag_values):
            problems.append(f"{name}: flag_meanings do not name each of its flag_values")
        standard = getattr(var, "standard_name", None)
        if standard is not None and standard not in CF_STANDARD_NAMES:
            problems.append(f"{name}: {standard!r} is not a CF standard name")
        for other in getattr(var, "coordinates", "").split():
            if other not in nc.variables:
                problems.append(f"{name} names a missing coordinate {other}")
        if var.dimensions == (name,) and "_FillValue" in var.ncattrs():
            problems.append(f"coordinate {name} has a _FillValue")
        if getattr(var, "standard_name", None) == "time" and not UTC_UNITS.match(var.units):
            problems.append(f"{name}: units {var.units!r} do not say UTC")
    problems += _unit_problems(nc) + _reference_problems(nc)
    reserved = {"_FillValue"}  # the netCDF conventions keep names of their own
    problems += [f"name {n!r} breaks CF's rule" for n in names
                 if not CF_NAME.match(n) and n not in reserved]
    return problems




@functools.lru_cache(maxsize=None)
def udunits_parses(units):
    """True when udunits (the library CF names for units) understands the text."""
    result = subprocess.run(["udunits2", "-H", units, "-W", ""], capture_output=True, text=True,
                            timeout=30)
    return "recognize" not in result.stdout + result.stderr


def _unit_problems(nc):
    if not shutil.which("udunits2"):
        return ["udunits2 is not installed (Debian's udunits-bin): units cannot be checked"]
    return [f"{name}: units {var.units!r} are not udunits'" for name, var in nc.variables.items()
            if "units" in var.ncattrs() and not udunits_parses(var.units)]


def _reference_problems(nc):
    """Names that attributes refer to must exist; every data variable of a station
    that gives its position names that position among its coordinates; cell
    methods name a dimension or a standard name."""
    problems = []
    referenced = set()
    for name, var in nc.variables.items():
        for attr in ("ancillary_variables", "bounds", "coordinates"):
            for other in str(getattr(var, attr, "")).split():
                referenced.add(other)
                if other not in nc.variables:
                    problems.append(f"{name}: {attr} names a missing variable {other}")
        # "(comment: ...)" and "(interval: ...)" qualify a method; they name nothing.
        methods = re.sub(r"\([^)]*\)", "", str(getattr(var, "cell_methods", "")))
        for method in re.findall(r"(\S+):\s", methods):
            if method not in var.dimensions and method not in CF_STANDARD_NAMES:
                problems.append(f"{name}: cell_methods name {method!r}, no dimension of it")
    if "latitude" not in nc.variables:
        return problems
    for name, var in nc.variables.items():
        coordinate = var.dimensions == (name,) or not var.dimensions
        if not coordinate and name not in referenced and "latitude" not in str(
                getattr(var, "coordinates", "")).split():
            problems.append(f"{name} does not name the station's position among its coordinates")
    return problems
