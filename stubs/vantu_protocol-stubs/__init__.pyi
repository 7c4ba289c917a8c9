# Type information for the vantu_protocol extension module.
#
# At run time every class reports `__module__ == "builtins"`; the widget event
# classes are reached only through `WidgetRegistry` (their run-time names are
# `WidgetRegistry_ClickButton` and so on) and `Coord` only through
# `WidgetRegistry.Joystick.delta`. Classes that are not module attributes are
# declared here under private names so that importing them is flagged.

from collections.abc import Callable
from typing import Any, ClassVar, Literal, Never, ParamSpec, Self, SupportsFloat, SupportsIndex, TypeAlias, TypeVar, final

from typing_extensions import disjoint_base

__all__ = [
    "VantuPiServer",
    "ComSocketServer",
    "Protocol",
    "ServerStatus",
    "ConfirmResult",
    "ErrorResult",
    "WidgetRegistry",
    "on",
]

_P = ParamSpec("_P")
_R = TypeVar("_R")

# What the serve loop calls: one positional argument, the widget event. The
# parameter is `Any` because a handler is usually typed for one variant,
# such as `(event: WidgetRegistry.ToggleButton) -> None`.
_Action = Callable[[Any], object]

@final
class ComSocketServer:
    """A single-client TCP server for widget events."""

    def __new__(cls, address: str) -> ComSocketServer: ...
    @property
    def address(self) -> str: ...
    def open(self) -> None:
        """Binds `address`, waits for one client (holding the interpreter lock)
        and closes the listener again."""
    def serve(self) -> None:
        """Starts the background serve loop for the connection; returns at once."""
    def close(self) -> None:
        """Stops the serve loop, or shuts down a connection that is not served."""
    def on(self, id: int, widget: str, action: _Action) -> None:
        """Registers `action` for frames of `widget` with identifier `id` (0 to 255)."""
    def _get_action(self, key: str) -> _Action | None:
        """The action registered under a key such as "ClickButton_1", or None."""
    def callback(self, id: int, status: ServerStatus, data: ConfirmResult | ErrorResult) -> None:
        """Sends one result frame to the client. With `send_timeout` set, raises
        TimeoutError (and shuts the connection down) when the client does not
        read for that long."""

    # Live control. `cycle`, `progress` and `idle_timeout` reach the next
    # serve(); changing any of them makes that loop a live loop, which shuts
    # the connection down when its session ends and stays until close().
    cycle: float
    """Seconds of pause before each read (0.5); 0 dispatches every frame at once."""
    progress: bool
    """Whether the loop prints its progress lines on standard output (True)."""
    idle_timeout: float | None
    """Seconds without a byte after which the client counts as gone (None: never)."""
    send_timeout: float | None
    """Seconds that callback() may wait for the client to read (None: no limit)."""
    coalesce: bool
    """Whether a Joystick or DirectionalButton frame that waits behind a newer
    one of the same widget and id is skipped (False: every frame runs). Reaches
    the next serve()."""

    # Who may drive the program; both reach the next open() or accept().
    @property
    def allow(self) -> tuple[str, ...] | None:
        """The addresses and networks ("192.168.1.0/24", "::1") whose peers
        open() and accept() let in; None (the default) lets everyone in."""
    @allow.setter
    def allow(self, value: list[str] | tuple[str, ...] | None) -> None: ...
    takeover: bool
    """Whether the listener stays through a session (False): then a new allowed
    client ends the session and the next accept() or open() returns it at once."""
    # The phone's browser as the remote; all reach the next open() or accept().
    web: str | None
    """The address ("0.0.0.0:8080", "[::]:8080", port 0 for any) of a web
    listener that serves the remote page at / and its WebSocket at /ws; None
    (the default): no web listener. ValueError for a text that is not a host
    and a port."""
    @property
    def web_address(self) -> str | None:
        """The address the web listener is bound to ("0.0.0.0:8080", the real
        port for port 0); None until open() or accept() binds it."""
    @property
    def web_hosts(self) -> tuple[str, ...]:
        """Host names besides this machine's own (its name, name.local,
        localhost, IP addresses) under which browsers may load the page."""
    @web_hosts.setter
    def web_hosts(self, value: list[str] | tuple[str, ...]) -> None: ...
    title: str
    """The page's title; by default the file name of the running script."""
    @property
    def connected(self) -> bool:
        """A connection is held and the loop serving it has not seen it end."""
    def accept(self, timeout: float | None = None) -> bool:
        """open() without holding the interpreter lock while it waits: True once a
        client is connected, False after `timeout` seconds or a close() meanwhile."""
    def wait(self, timeout: float | None = None) -> bool:
        """Blocks, without the interpreter lock, until the session of the last
        serve() is over: True, or False after `timeout` seconds. Raises the
        action's exception, or ValueError for a frame that did not decode."""

@final
class VantuPiServer:
    def __new__(cls, no_constructor: Never, /) -> Self: ...
    @staticmethod
    def use_socket(address: str) -> ComSocketServer: ...

# The two enumerations: members are class attributes holding the only
# instances. They compare equal to their integer value (`ServerStatus.Idle == 1`),
# are not ordered, and are unhashable.

@final
class Protocol:
    WebSocket: ClassVar[Protocol]
    Bluetooth: ClassVar[Protocol]
    Http: ClassVar[Protocol]
    Usb: ClassVar[Protocol]
    __hash__: ClassVar[None]  # type: ignore[assignment]
    def __new__(cls, no_constructor: Never, /) -> Self: ...
    def __int__(self) -> int: ...
    def __eq__(self, value: object, /) -> bool: ...
    def __ne__(self, value: object, /) -> bool: ...

@final
class ServerStatus:
    NotInit: ClassVar[ServerStatus]
    Idle: ClassVar[ServerStatus]
    Busy: ClassVar[ServerStatus]
    Error: ClassVar[ServerStatus]
    __hash__: ClassVar[None]  # type: ignore[assignment]
    def __new__(cls, no_constructor: Never, /) -> Self: ...
    def __int__(self) -> int: ...
    def __eq__(self, value: object, /) -> bool: ...
    def __ne__(self, value: object, /) -> bool: ...

# Result payloads: write-only, nothing can be read back.

@final
class ConfirmResult:
    # A NumPy boolean scalar is accepted at run time as well; an int is not.
    def __new__(cls, status: bool) -> ConfirmResult: ...

@final
class ErrorResult:
    def __new__(cls, error: str) -> ErrorResult: ...

# Widget events.

@final
class _Coord:
    """The joystick's movement; run-time name `Coord`."""

    def __new__(cls, no_constructor: Never, /) -> Self: ...
    @property
    def x(self) -> float: ...
    @property
    def y(self) -> float: ...

@disjoint_base
class WidgetRegistry:
    """Base class of the six widget event classes; not constructible."""

    def __new__(cls, no_constructor: Never, /) -> Self: ...
    ClickButton: TypeAlias = _WidgetRegistry_ClickButton
    ToggleButton: TypeAlias = _WidgetRegistry_ToggleButton
    ConfirmButton: TypeAlias = _WidgetRegistry_ConfirmButton
    PressButton: TypeAlias = _WidgetRegistry_PressButton
    DirectionalButton: TypeAlias = _WidgetRegistry_DirectionalButton
    Joystick: TypeAlias = _WidgetRegistry_Joystick

@final
class _WidgetRegistry_ClickButton(WidgetRegistry):
    __match_args__: ClassVar[None]
    def __new__(cls) -> _WidgetRegistry_ClickButton: ...

@final
class _WidgetRegistry_ToggleButton(WidgetRegistry):
    __match_args__: ClassVar[tuple[Literal["value"]]]
    # A NumPy boolean scalar is accepted at run time as well; an int is not.
    def __new__(cls, value: bool) -> _WidgetRegistry_ToggleButton: ...
    @property
    def value(self) -> bool: ...

@final
class _WidgetRegistry_ConfirmButton(WidgetRegistry):
    __match_args__: ClassVar[None]
    def __new__(cls) -> _WidgetRegistry_ConfirmButton: ...

@final
class _WidgetRegistry_PressButton(WidgetRegistry):
    __match_args__: ClassVar[tuple[Literal["pressed"]]]
    def __new__(cls, pressed: bool) -> _WidgetRegistry_PressButton: ...
    @property
    def pressed(self) -> bool: ...

@final
class _WidgetRegistry_DirectionalButton(WidgetRegistry):
    __match_args__: ClassVar[tuple[Literal["direction"]]]
    def __new__(cls, direction: SupportsIndex) -> _WidgetRegistry_DirectionalButton: ...
    @property
    def direction(self) -> int:
        """0 to 255; the client app gives each code its meaning."""

@final
class _WidgetRegistry_Joystick(WidgetRegistry):
    __match_args__: ClassVar[tuple[Literal["delta"], Literal["intensity"]]]
    def __new__(cls, delta: _Coord, intensity: SupportsFloat | SupportsIndex) -> _WidgetRegistry_Joystick: ...
    @property
    def delta(self) -> _Coord:
        """A new copy on every read."""
    @property
    def intensity(self) -> float:
        """Stored as a 32-bit float."""

def on(server: ComSocketServer) -> Callable[[Callable[_P, _R]], Callable[_P, _R]]:
    """A decorator that registers a function under the identity its name gives
    ("ToggleButton_3": widget name, underscore, id 0 to 255) and returns a
    wrapper with the same call signature. Any other name raises PanicException."""
