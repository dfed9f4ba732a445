"""Operands of foreign classes whose comparisons misbehave, for the equality
rules of types and terms."""


class EqualsEverything:
    def __eq__(self, other):
        return "truthy"

    def __ne__(self, other):
        return "ne was called"


class RaisingEquality:
    def __eq__(self, other):
        raise ZeroDivisionError("no equality here")
