"""The boundary runtime: argument binding, conversions, error mapping, panics and borrows.

zelk's own entries are used where they exist; the test probe module, built from the same runtime
code, covers the shapes and paths that zelk does not expose yet.
"""

import sys
import threading

import pytest

import zelk

probe = pytest.importorskip("_zelk_probe")

SEED = bytes(32)


def raises_exactly(exc_type, message, fn, *args, **kwargs):
    with pytest.raises(exc_type) as info:
        fn(*args, **kwargs)
    assert type(info.value) is exc_type
    assert str(info.value) == message
    return info.value


# ---- binding -----------------------------------------------------------------------------------

BINDING_ERRORS = [
    (zelk.ZelkAgent.generate, (), {"suite": "ed25519", "extra": 1},
     "ZelkAgent.generate() got an unexpected keyword argument 'extra'"),
    (zelk.ZelkAgent.generate, ("ed25519", "x"), {},
     "ZelkAgent.generate() takes from 0 to 1 positional arguments but 2 were given"),
    (zelk.ZelkAgent.from_seed, (), {},
     "ZelkAgent.from_seed() missing 1 required positional argument: 'seed'"),
    (zelk.ZelkAgent.from_seed, (SEED,), {"seed": SEED},
     "ZelkAgent.from_seed() got multiple values for argument 'seed'"),
    (zelk.ZelkAgent.from_seed, (SEED, "ed25519", 3), {},
     "ZelkAgent.from_seed() takes from 1 to 2 positional arguments but 3 were given"),
    (zelk.ZelkAgent.from_seed, (), {"suite": "p256"},
     "ZelkAgent.from_seed() missing 1 required positional argument: 'seed'"),
    (probe.none, (1,), {}, "none() takes 0 positional arguments but 1 was given"),
    (probe.one, (1, 2), {}, "one() takes 1 positional arguments but 2 were given"),
    (probe.three, (), {},
     "three() missing 3 required positional arguments: 'a', 'b', and 'c'"),
    (probe.three, (1,), {}, "three() missing 2 required positional arguments: 'b' and 'c'"),
    (probe.three, (), {"b": 1},
     "three() missing 2 required positional arguments: 'a' and 'c'"),
    (probe.four, (1,), {},
     "four() missing 3 required positional arguments: 'b', 'c', and 'd'"),
    (probe.four, (), {"c": 1},
     "four() missing 3 required positional arguments: 'a', 'b', and 'd'"),
    (probe.optional, (1, 2, 3, 4), {},
     "optional() takes from 1 to 3 positional arguments but 4 were given"),
    (probe.all_optional, (1, 2, 3), {},
     "all_optional() takes from 0 to 2 positional arguments but 3 were given"),
    (probe.optional, (1,), {"a": 2}, "optional() got multiple values for argument 'a'"),
    # Keywords are examined in the order given: the first fault found is reported.
    (probe.optional, (1,), {"a": 2, "z": 3}, "optional() got multiple values for argument 'a'"),
    (probe.optional, (1,), {"z": 3, "a": 2}, "optional() got an unexpected keyword argument 'z'"),
    (probe.one, (), {"\udc80": 1}, "one() got an unexpected keyword argument '\\udc80'"),
    # Binding comes before any conversion.
    (zelk.ZelkAgent.from_seed, (1,), {"bogus": 2},
     "ZelkAgent.from_seed() got an unexpected keyword argument 'bogus'"),
    (probe.Holder().shared, (), {},
     "Holder.shared() missing 1 required positional argument: 'callback'"),
]


@pytest.mark.parametrize("fn, args, kwargs, message", BINDING_ERRORS)
def test_binding_errors(fn, args, kwargs, message):
    err = raises_exactly(TypeError, message, fn, *args, **kwargs)
    assert not getattr(err, "__notes__", None)


@pytest.mark.parametrize("args, kwargs, bound", [
    ((1,), {}, {"a": 1}),
    ((), {"a": 1}, {"a": 1}),
    ((1,), {"c": 3}, {"a": 1, "c": 3}),
    ((1, 2, 3), {}, {"a": 1, "b": 2, "c": 3}),
    ((), {"c": 3, "b": 2, "a": 1}, {"a": 1, "b": 2, "c": 3}),
    ((1, None), {}, {"a": 1, "b": None}),
])
def test_binding_places_arguments(args, kwargs, bound):
    assert probe.optional(*args, **kwargs) == bound


# ---- conversions ---------------------------------------------------------------------------------

class Text(str):
    pass


class Raw(bytes):
    pass


class Index:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


class BrokenSequence:
    def __len__(self):
        return 2

    def __getitem__(self, i):
        raise KeyError("broken item")


class Meta(type):
    def __getattribute__(cls, name):
        if name == "__qualname__":
            raise RuntimeError("no name")
        return super().__getattribute__(name)


class Nameless(metaclass=Meta):
    pass


def gen():
    yield "a"


ACCEPTED = [
    ("text", "abc", "abc"),
    ("text", Text("sub"), "sub"),
    ("text", "é\u20ac\U0001f600", "é\u20ac\U0001f600"),
    ("text", "", ""),
    ("bytes", b"", b""),
    ("bytes", Raw(b"\x00\xff"), b"\x00\xff"),
    ("i64", True, 1),
    ("i64", False, 0),
    ("i64", 2**63 - 1, 2**63 - 1),
    ("i64", -2**63, -2**63),
    ("i64", Index(-5), -5),
    ("u64", 0, 0),
    ("u64", 2**64 - 1, 2**64 - 1),
    ("u64", True, 1),
    ("u64", Index(7), 7),
    ("text_list", ["a", "b"], ["a", "b"]),
    ("text_list", ("a", Text("b")), ["a", "b"]),
    ("text_list", [], []),
    ("text_list", range(0), []),
    ("optional_text", None, None),
    ("optional_text", "x", "x"),
]


@pytest.mark.parametrize("kind, value, expected", ACCEPTED)
def test_conversions_accept(kind, value, expected):
    result = probe.convert(kind, value)
    assert result == expected and type(result) is type(expected)


def test_list_and_dict_conversions_pass_the_object_through():
    items = [1, 2]
    assert probe.convert("list", items) is items
    mapping = {"a": 1}
    assert probe.convert("dict", mapping) is mapping


REFUSED = [
    ("text", 1, TypeError, "'int' object is not an instance of 'str'"),
    ("text", None, TypeError, "'None' is not an instance of 'str'"),
    ("text", b"abc", TypeError, "'bytes' object is not an instance of 'str'"),
    ("text", Nameless(), TypeError,
     "'<failed to extract type name>' object is not an instance of 'str'"),
    ("bytes", bytearray(2), TypeError, "'bytearray' object is not an instance of 'bytes'"),
    ("bytes", memoryview(b"ab"), TypeError, "'memoryview' object is not an instance of 'bytes'"),
    ("bytes", "ab", TypeError, "'str' object is not an instance of 'bytes'"),
    ("bytes", None, TypeError, "'None' is not an instance of 'bytes'"),
    ("i64", 2**63, OverflowError, None),
    ("i64", -2**63 - 1, OverflowError, None),
    ("i64", 10**100, OverflowError, None),
    ("i64", "1", TypeError, None),
    ("i64", 1.0, TypeError, None),
    ("i64", None, TypeError, None),
    ("u64", -1, OverflowError, None),
    ("u64", 2**64, OverflowError, None),
    ("u64", 1.5, TypeError, None),
    ("text_list", "ab", TypeError, "Can't extract `str` to `Vec`"),
    ("text_list", {"a"}, TypeError, "'set' object is not an instance of 'Sequence'"),
    ("text_list", {"a": 1}, TypeError, "'dict' object is not an instance of 'Sequence'"),
    ("text_list", gen(), TypeError, "'generator' object is not an instance of 'Sequence'"),
    ("text_list", None, TypeError, "'None' is not an instance of 'Sequence'"),
    ("text_list", ["a", 1], TypeError, "'int' object is not an instance of 'str'"),
    ("text_list", ["a", None], TypeError, "'None' is not an instance of 'str'"),
    ("text_list", ["\udc80"], UnicodeEncodeError, None),
    ("text_list", BrokenSequence(), KeyError, None),
    ("list", (1,), TypeError, "'tuple' object is not an instance of 'list'"),
    ("list", None, TypeError, "'None' is not an instance of 'list'"),
    ("dict", [], TypeError, "'list' object is not an instance of 'dict'"),
    ("optional_text", 3, TypeError, "'int' object is not an instance of 'str'"),
]


@pytest.mark.parametrize("kind, value, exc_type, message", REFUSED)
def test_conversions_refuse_with_a_note(kind, value, exc_type, message):
    with pytest.raises(exc_type) as info:
        probe.convert(kind, value)
    assert type(info.value) is exc_type
    if message is not None:
        assert str(info.value) == message
        assert info.value.args == (message,)
    assert info.value.__notes__ == ["while processing 'value'"]


def test_lone_surrogates_give_unicode_encode_error():
    with pytest.raises(UnicodeEncodeError) as info:
        probe.convert("text", "a\udc80b")
    assert info.value.__notes__ == ["while processing 'value'"]


def test_defaults_none_and_explicit_none():
    assert probe.defaults() == ("ed25519", None)
    assert probe.defaults("x", None) == ("x", None)
    assert probe.defaults(name="n") == ("ed25519", "n")
    err = raises_exactly(TypeError, "'None' is not an instance of 'str'", probe.defaults, None)
    assert err.__notes__ == ["while processing 'suite'"]


# ---- errors and panics -------------------------------------------------------------------------

@pytest.mark.parametrize("kind, exc_type", [
    ("value", ValueError), ("runtime", RuntimeError), ("type", TypeError),
])
def test_error_values_become_exceptions(kind, exc_type):
    err = raises_exactly(exc_type, "some text: with detail", probe.raise_error, kind,
                         "some text: with detail")
    assert err.args == ("some text: with detail",)


def test_coded_error_carries_its_code():
    with pytest.raises(probe.CodedError) as info:
        probe.raise_error("coded", "failed verification")
    assert isinstance(info.value, RuntimeError)
    assert info.value.args == ("failed verification",)
    assert info.value.code == "probe_code" and type(info.value.code) is str


def panic_type_of(fn, *args):
    with pytest.raises(BaseException) as info:
        fn(*args)
    return info.value


@pytest.mark.parametrize("kind, message", [
    ("panic", "an invariant broke"),
    ("throw", "thrown by native code"),
    ("bad_alloc", "out of memory"),
    ("throw_int", "unknown C++ exception"),
    ("null", "PyObject pointer is null"),
])
def test_panics_and_native_exceptions_become_panic_exception(kind, message, capfd):
    arg = message if kind in ("panic", "throw") else "ignored"
    err = panic_type_of(probe.raise_error, kind, arg)
    cls = type(err)
    assert cls.__name__ == "PanicException" and cls.__module__ == "zelk"
    assert issubclass(cls, BaseException) and not issubclass(cls, Exception)
    assert err.args == (message,)
    report = capfd.readouterr().err
    assert "thread '<unnamed>' panicked at " in report
    assert f"\n{message}\n" in report


def test_panic_exception_is_one_class():
    first = panic_type_of(probe.raise_error, "panic", "one")
    second = panic_type_of(probe.raise_error, "throw", "two")
    assert type(first) is type(second)
    assert type(first).__doc__


def test_panic_exception_escapes_except_exception():
    with pytest.raises(BaseException):
        try:
            probe.raise_error("panic", "through")
        except Exception:  # noqa: BLE001 - the point is that this does not catch it
            pytest.fail("PanicException was caught as an Exception")


# ---- borrows ---------------------------------------------------------------------------------

def shared(holder, inner):
    return holder.shared(inner)


def exclusive(holder, inner):
    return holder.exclusive(inner)


# (outer borrow, what the callback does with the same object, expected result or error)
BORROW_TABLE = [
    (shared, lambda h: h.label, "holder"),
    (shared, lambda h: h.count, 1),
    (shared, lambda h: h.shared(lambda g: g.count), 2),
    (shared, lambda h: h.exclusive(lambda g: None), "Already borrowed"),
    (exclusive, lambda h: h.count, -1),
    (exclusive, lambda h: h.label, "Already mutably borrowed"),
    (exclusive, lambda h: h.shared(lambda g: None), "Already mutably borrowed"),
    (exclusive, lambda h: h.exclusive(lambda g: None), "Already borrowed"),
    # A busy object is reported before the argument that would fail conversion.
    (exclusive, lambda h: h.pair(1, None), "Already mutably borrowed"),
    (shared, lambda h: h.pair(h, None), "Already borrowed"),
]


@pytest.mark.parametrize("outer, inner, expected", BORROW_TABLE)
def test_borrow_rules(outer, inner, expected):
    holder = probe.Holder()

    def callback(h):
        try:
            return inner(h)
        except RuntimeError as err:
            assert type(err) is RuntimeError
            return str(err)

    assert outer(holder, callback) == expected
    assert holder.count == 0


@pytest.mark.parametrize("outer", [shared, exclusive])
def test_borrow_is_given_back_when_the_call_fails(outer):
    holder = probe.Holder()

    def callback(_):
        raise KeyError("inside")

    with pytest.raises(KeyError):
        outer(holder, callback)
    assert holder.count == 0
    assert holder.label == "holder"


def test_argument_object_is_borrowed_after_self():
    a, b = probe.Holder("a"), probe.Holder("b")
    seen = {}

    def callback(h):
        seen["self_count"] = h.count
        seen["other_count"] = b.count
        try:
            b.label
        except RuntimeError as err:
            seen["other_label"] = str(err)
        return "done"

    assert a.pair(b, callback) == "done"
    assert seen == {"self_count": 1, "other_count": -1, "other_label": "Already mutably borrowed"}
    assert a.count == 0 and b.count == 0


def test_argument_object_type_is_checked():
    holder = probe.Holder()
    with pytest.raises(TypeError) as info:
        holder.pair(1, None)
    assert str(info.value) == "'int' object is not an instance of 'Holder'"
    assert info.value.__notes__ == ["while processing 'other'"]
    assert holder.count == 0


def test_shared_borrows_from_many_threads():
    holder = probe.Holder("t")
    errors = []
    barrier = threading.Barrier(8)

    def work():
        barrier.wait()
        for _ in range(2000):
            try:
                holder.shared(lambda h: h.label)
            except BaseException as err:  # noqa: BLE001
                errors.append(err)

    threads = [threading.Thread(target=work) for _ in range(8)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert errors == [] and holder.count == 0


def test_constructor_of_a_class_with_state():
    holder = probe.Holder(label="x")
    assert holder.label == "x" and holder.count == 0
    assert probe.Holder.__text_signature__ == '(label="holder")'
    assert type(holder).__module__ == "builtins"
    err = raises_exactly(TypeError, "Holder.__new__() got an unexpected keyword argument 'y'",
                         probe.Holder, y=1)
    assert not getattr(err, "__notes__", None)


def test_refcounts_do_not_leak_through_calls():
    holder = probe.Holder()
    value = "some text that is not interned " * 3
    before = sys.getrefcount(value), sys.getrefcount(holder)
    for _ in range(100):
        probe.convert("text", value)
        probe.optional(value, c=value)
        holder.shared(lambda h: None)
        try:
            probe.convert("bytes", value)
        except TypeError:
            pass
    assert (sys.getrefcount(value), sys.getrefcount(holder)) == before


def test_module_functions_are_bound_to_the_module():
    assert probe.convert.__module__ == "_zelk_probe"
    assert probe.convert.__self__ is None
