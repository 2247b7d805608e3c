from ._tarvo import *  # noqa: F401,F403
