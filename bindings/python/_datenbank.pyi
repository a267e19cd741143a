# The extension module built from src/_datenbank.c: the package's loops over records.
from typing import List, Optional, Union

TEXT_BYTES: int
TEXT_CHARMAP: int
TEXT_UTF8: int
TEXT_LATIN1: int
TABLE_CAPSULE: str

class Failure(Exception): ...

def seek(table: object, position: int) -> None: ...
def field(
    table: object, position: int, index: int, text: int, charmap: Optional[str]
) -> Union[str, bytes, None]: ...
def rows(
    table: object, start: int, stop: int, text: int, charmap: Optional[str]
) -> List[List[Union[str, bytes, None]]]: ...
