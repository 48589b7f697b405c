"""Studies of pdpcell: sweeps and ensembles of runs, their collection and analyses."""
